// The writers of imgpry-info, one per output: each writes the facts of one
// image to the stream it is handed and keeps nothing between runs.
#pragma once

#include <cstdio>

#include "facts.h"

namespace imgpry::info {

struct Request {
    const char* pathText;   // the image's path as given, as UTF-8
    const char* shownPath;  // as a terminal may show it
    bool tracks;            // the text report lists every track's records
    bool utf8Names;         // the text report shows Shift_JIS names decoded to UTF-8
};

// The text report, with every track's records when request.tracks.
void writeReport(FILE* out, const Facts& facts, const Request& request);
// The same facts as one JSON document.
void writeJson(FILE* out, const Facts& facts, const Request& request);
// An SVG picture of every disk's sectors.
void writeMap(FILE* out, const Facts& facts, const Request& request);

}  // namespace imgpry::info
