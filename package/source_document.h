#pragma once
// The source document: the operator's certificate XML stamped with the
// converter's own data and put into the certificate namespace. Schema
// validation checks it; the package file job and the server job send it on
// without the namespace declaration.
#include <string>
#include <string_view>

#include "package/cert_namespace.h"
#include "package/job_context.h"
#include "support/mapped_file.h"
#include "package/source_lines.h"
#include "package/text_relay.h"
#include "support/job_folder.h"

namespace orx {

// Parses the certificate XML at xmlPath (environment references already
// expanded), makes an element "arm" with lastKnownChange="0" the root's first
// child, sets the root attributes version="2.0", name="mcod",
// ProgramFullVersion and DateOfCreate (dd.mm.yyyy from context.clock),
// declares CertNamespaceUri as the default namespace first in the root's
// start tag, and writes the serialised text (CR LF line ends, the encoding
// the input declared) to SourceConvert.xml in the job's folder, which is
// made here when the job has none yet. When the job ends the file is left
// as SourceConvert.xml in the private temporary folder.
//
// Returns that file's path. Any failure (the job's folder included) is
// recorded under context.params.kindTitle as "TFormMain.GetFullSourceName"
// and then thrown again as Error with the same message.
//
// The root element need not be called "dataPacket": whatever it is called, it
// gets the declaration, and the schema check then reports the undeclared root.
//
// lines, when given, learns where the certificate XML's tags stood, so that a
// schema problem can name the operator's line; copy, when given, gets the
// text as it is written (WriteStampedSource).
std::string GetFullSourceName(JobContext& context, JobFolder& folder, std::string_view xmlPath,
                              SourceLineMap* lines = nullptr, TextRelay* copy = nullptr);

// The text GetFullSourceName would write for the certificate XML at xmlPath,
// handed only to copy as it is made: nothing is written and nothing
// recorded. Throws Error as GetFullSourceName does.
void StreamSourceDocument(const Clock& clock, std::string_view xmlPath, SourceLineMap* lines,
                          TextRelay& copy);

// The bytes of the file at sourcePath with the first occurrence of
// xmlns="<CertNamespaceUri>" cut out (the blank before it stays). A file
// without that declaration comes back unchanged. Records nothing; a file that
// cannot be read throws Error.
std::string GetSourceForPacking(std::string_view sourcePath);

// Cuts the declaration from text as GetSourceForPacking does.
void RemoveNamespaceDeclaration(std::string& text);
// The same for the mapped source document: what stood before the
// declaration moves up over it, so only the first page is copied.
void RemoveNamespaceDeclaration(MappedFile& text);

// Puts the declaration back into a text for packing, where the stamping put
// it: right after the first "dataPacket" that a blank follows. A text without
// such a place comes back unchanged.
void RestoreNamespaceDeclaration(std::string& text);

}  // namespace orx
