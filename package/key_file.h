#pragma once
// The key file reader: i.cod, the enciphered XML issued to an office, read
// into the job's KeyParameters.
#include <string_view>

#include "package/job_context.h"

namespace orx {

// Empties the log pane, then reads the key file at path (environment
// references expanded), deciphers it with the fixed key text and fills
// context.params from whichever of the three layouts it has. Fields are
// assigned one by one, so a failure partway leaves those already assigned
// with their new values.
//
// On any failure writes one error record (source: params.kindTitle as it
// stands then; strings "TFormMain.LoadParamsFromICod" and the message) and
// throws Error with the same message: "i.cod иной программы" for a key file
// of another kind or program, the open error for an unreadable file, that
// the file is no key file of this program or is damaged for bytes that are
// not the enciphered XML (or hold a DTD), never quoting them; a conversion
// error for a missing or malformed value, or a range error for a number that
// does not fit its field.
void LoadParamsFromICod(JobContext& context, std::string_view path);

}  // namespace orx
