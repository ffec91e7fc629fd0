#include "application.h"

int main() { return RunApplication(); }
