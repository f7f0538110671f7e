#pragma once
// Writes the source document while the certificate XML is read, one child of
// the root at a time, so that a file of any size needs little memory. The
// bytes are those of parsing the whole file (XmlDocument::ParseText),
// stamping the tree and serialising it (XmlDocument::Text).
#include <string>
#include <string_view>

namespace orx {

class SourceLineMap;
class TextRelay;

// Reads the certificate XML at inputPath and writes to outputPath:
// - the XML declaration in the encoding the input declared (UTF-8 when it
//   declared none or a 16/32-bit one), then what precedes the root;
// - the root's start tag with the default namespace declaration
//   CertNamespaceUri first and the attributes version="2.0", name="mcod",
//   ProgramFullVersion and DateOfCreate=dateOfCreate (an existing one keeps
//   its place and gets the new value);
// - an element "arm" with lastKnownChange="0" before all of the root's
//   children, then the children, the end tag and what follows the root.
// Every line ends in CR LF; whitespace-only text between elements is dropped.
//
// outputPath is replaced only when the whole document was written; before
// that it is untouched. Throws Error with the file layer's message for a file
// that cannot be read or written, or with the XML layer's parse message
// ("<reason>\r\nLine: <n>\r\n<start of the line>") for input that does not
// parse.
//
// When lines is given, it receives where each start and end tag stood in the
// input, so that a problem found in the written copy can name the input's line.
// When copy is given, it gets the written bytes as they are written; ending
// the text (Finish or Abandon) is left to the caller.
void WriteStampedSource(std::string_view inputPath, const std::string& outputPath,
                        std::string_view dateOfCreate, SourceLineMap* lines = nullptr,
                        TextRelay* copy = nullptr);

// The certificate XML's bytes as the stamping reads them: up to the first
// zero byte, where text set into a document ends. A pipe or device that
// does not end within 256 MiB throws Error naming it.
std::string ReadCertificateXml(std::string_view path);

// The same document handed only to copy as it is made: nothing touches the
// disk and the text is never held whole. Throws as WriteStampedSource does;
// ending the text (Finish or Abandon) is left to the caller.
void StreamStampedSource(std::string_view inputPath, std::string_view dateOfCreate,
                         SourceLineMap* lines, TextRelay& copy);

}  // namespace orx
