// The simulated handheld's text and name routines: the shared codecs and
// the registry's name order, under the simulator's names.
#ifndef SAMBREL_SIM_WTEXT_H
#define SAMBREL_SIM_WTEXT_H

#include "registry/names.h"
#include "text/codecs.h"

namespace sim {

using registry::CompareNames;
using registry::EqualNoCase;
using registry::FoldCase;
using text::DecodeUtf8;
using text::FromUtf16Bytes;
using text::U16;
using text::Utf16Bytes;
using text::Utf8;
using text::Utf8Errors;
using text::ValidUtf8;

} // namespace sim

#endif
