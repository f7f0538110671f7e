#include "package/document_check.h"

#include "package/key_file.h"
#include "package/source_document.h"
#include "package/source_lines.h"

namespace orx {

std::uint64_t CheckDocument(JobContext& context, const std::string& xmlPath,
                            const std::string& keyFilePath, const std::string& xsdPath,
                            const SchemaProblemSink& report) {
  LoadParamsFromICod(context, keyFilePath);
  SourceLineMap lines;
  const std::string source = SourceDocumentText(context.clock, xmlPath, &lines);
  const SchemaChecker schema(xsdPath);
  return schema.CheckText(source, &lines, report);
}

}  // namespace orx
