#pragma once
// Checks a source document against the XML Schema of its document kind.
#include <string_view>

#include "package/job_context.h"

namespace orx {

// Expands environment references in both paths, loads the schema (its target
// namespace must be CertNamespaceUri; local xs:include/xs:import files are
// read, nothing from the network) and validates the document while it is
// read, without building a tree.
//
// Returns true when the document is well-formed and valid; nothing is written
// then. Returns false when the document cannot be read, is not well-formed or
// is not valid, after appending one line to the log pane (the reason for the
// first error, naming its line) and writing one event record ("ОРХ РФ",
// "xml не прошел проверку", the reason).
//
// A schema that cannot be read, is not a schema, or has another target
// namespace throws Error with the parser's message instead.
bool ValidateXmlBySchema(JobContext& context, std::string_view xmlPath, std::string_view xsdPath);

}  // namespace orx
