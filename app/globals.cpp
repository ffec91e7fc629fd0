#include "globals.h"

std::string selport;
TStringList* list = new TStringList;
fatdss_t cf;
std::int32_t list_state = 0;
