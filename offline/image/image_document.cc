#include "offline/image/image_document.h"

#include <cstdlib>

#include "check/check.h"

namespace endpointfix::offline::image {
namespace {

void print_where(std::FILE* out, const HiveWhere& where) {
    const struct { const char* name; const std::string& value; } fields[] = {
        {"image", where.image}, {"partition", where.partition}, {"path", where.path}};
    for (const auto& field : fields) {
        std::fprintf(out, ", \"%s\": ", field.name);
        if (field.value.empty())
            std::fprintf(out, "null");
        else
            print_json_string(out, field.value.c_str());
    }
}

// What `print` writes, as a string.
template <typename Print>
std::string printed(Print print) {
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&text, &size);
    if (out == nullptr) return "";
    print(out);
    std::fclose(out);
    std::string kept(text, size);
    std::free(text);
    return kept;
}

}  // namespace

std::string with_where(const std::string& document, const HiveWhere& where) {
    // The check's document begins {"program": ..., "version": ..., "source": "...",\n"endpoints"
    constexpr char kAfterSource[] = ",\n\"endpoints\"";
    const auto at = document.find(kAfterSource);
    if (document.rfind("{\"program\"", 0) != 0 || at == document.npos) return document;
    return document.substr(0, at) + printed([&](std::FILE* out) { print_where(out, where); }) +
           document.substr(at);
}

void print_refused(std::FILE* out, const char* program, const std::string& source,
                   const HiveWhere& where, const std::string& why, int status) {
    std::fprintf(out, "{\"program\": \"%s\", \"version\": \"%s\", \"source\": ", program,
                 ENDPOINTFIX_VERSION);  // set by the build
    print_json_string(out, source.c_str());
    print_where(out, where);
    std::fprintf(out, ",\n\"refused\": ");
    print_json_string(out, why.c_str());
    std::fprintf(out, ",\n\"status\": %d}\n", status);
}

}  // namespace endpointfix::offline::image
