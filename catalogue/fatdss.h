// Log entries of the device's listing.
//
// The device answers "fs list\r" with one line per stored log: two words of
// seven letters each, the start code and the stop code. A code is a base-26
// number ("A" = 0 ... "Z" = 25, most significant first) that, taken modulo
// 2^32, is an MS-DOS (FAT) date and time: date word in the upper 16 bits,
// time word in the lower 16 bits.
#pragma once

#include <cstdint>
#include <string>

// One decoded date and time, exactly as coded (no field is range-tested but
// the seconds).
struct fatdt_t {
    std::uint16_t year = 0;  // 1980 + bits 31..25
    std::uint8_t month = 0;  // bits 24..21
    std::uint8_t day = 0;    // bits 20..16
    std::uint8_t hour = 0;   // bits 15..11
    std::uint8_t min = 0;    // bits 10..5
    std::uint8_t sec = 0;    // 2 x bits 4..0, after the seconds correction
};

// One decoded log directory entry.
struct fatdss_t {
    fatdt_t start;
    fatdt_t stop;
    std::string name;       // first word of the line, as received: the log's name on the device
    std::string file;       // default save-file name; xfnd leaves it as it was
    std::uint32_t dur = 0;  // whole seconds from start to stop (see xfnd for the undefined cases)
    std::uint32_t dur_h = 0;
    std::uint32_t dur_m = 0;
    std::uint32_t dur_s = 0;
};

// Decodes one listing line into *entry (all fields but `file`).
// Reads nothing beyond `line`, whatever it holds. Reentrant.
//
// The line is split as "%s %s" would split C text: leading white space is
// skipped, a word ends at white space, a NUL byte ends the line, and
// anything after the second word is ignored. A missing word counts as an
// empty code. `name` is the whole first word, whatever its length.
//
// `dur` (and so dur_h/dur_m/dur_s) is 0 when either end is not a valid date
// and time (see fat_file_time) or when the stop lies before the start: the
// upload scales its progress bar by `dur`, and a wrapped difference there
// would leave the bar useless.
void xfnd(const std::string& line, fatdss_t* entry);

// True when `dur` counts the seconds from start to stop: both ends are
// valid dates and times and the stop does not lie before the start.
bool duration_known(const fatdss_t& entry);

// True for a log's name on the device: seven letters "A" to "Z".
bool is_log_name(const std::string& word);

// True when a listing line is a log: its first two words, split as xfnd
// splits them, are log names. Only such lines are listed, and only such a
// name is ever sent in a command.
bool is_log_line(const std::string& line);

// The 32-bit value of a code word: sum of (signed char - 65) * 26^(6 - i) over
// its first seven characters, modulo 2^32. Missing characters count as "A"
// (digit 0), so a short word reads as if padded on the right with "A"s;
// characters after the seventh are ignored.
std::uint32_t code_value(const std::string& word);

// The seven-letter code of a 32-bit value (the inverse of code_value for
// letters "A".."Z").
std::string code_of(std::uint32_t value);

// The DOS date-time value of the given fields (the second rounded down to
// an even one); the inverse of fatdt_of for valid fields.
std::uint32_t dos_value(int year, int month, int day, int hour, int min, int sec);

// Splits a DOS date-time value into its fields, without any correction.
fatdt_t fatdt_of(std::uint32_t value);

// The point in time of a DOS date-time value: 100-ns ticks since
// 1601-01-01 00:00:00 (proleptic Gregorian, no time zone). False, leaving
// *ticks alone, for a month outside 1..12, a day of 0 or past the month's
// end, an hour above 23, a minute above 59 or a second above 59.
bool fat_file_time(std::uint32_t value, std::uint64_t* ticks);

// "%04d-%02d-%02d  %02d:%02d:%02d": the text of a log combo box entry.
std::string entry_text(const fatdt_t& t);
// "%04d-%02d-%02d %02d:%02d:%02d": the start and stop labels.
std::string label_text(const fatdt_t& t);
// "%04d_%02d_%02d_%02d_%02d_%02d.log": the default save-file name.
std::string file_name(const fatdt_t& t);
// "%04d-%02d-%02dT%02d:%02d:%02d": a date and time for JSON.
std::string iso_text(const fatdt_t& t);
// "%dh %dm %ds": the duration label.
std::string duration_text(const fatdss_t& e);
