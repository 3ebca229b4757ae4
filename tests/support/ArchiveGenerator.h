// Writes an archive folder that looks like one a busy user has collected, with
// the program's own writers: mostly texts, some HTML and RTF with their plain
// text, a few screenshots, from a dozen applications over several weeks.
#pragma once

#include <string>

struct ArchiveShape {
    int captures = 10000;
    unsigned seed = 1;
    // Earlier days that hold captures besides today; recent ones hold more.
    int days = 45;
    // Part of the captures made today (the part a default start loads).
    double todayShare = 0.2;
};

struct GeneratedArchive {
    int captures = 0;
    int items = 0;
    int todayCaptures = 0;
    int todayItems = 0;
};

// `folder` ends with "\"; it is created when missing. The same seed gives the same
// contents (names, GUIDs and class atoms differ). False when any file could not be written.
bool GenerateArchive(const std::string& folder, const ArchiveShape& shape, GeneratedArchive* written = nullptr);
bool GenerateArchive(const std::string& folder, int captures, unsigned seed);
