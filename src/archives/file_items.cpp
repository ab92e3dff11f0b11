#include "archives/file_items.h"

#include <cstdio>

namespace zembrat::archives {

namespace {

template <class... Ts>
struct Overloaded : Ts... {
    using Ts::operator()...;
};
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

}  // namespace

std::string VariantToString(const VariantScalar& value) {
    return std::visit(Overloaded{
                          [](std::monostate) { return std::string(); },
                          [](const std::string& text) { return text; },
                          [](std::int64_t number) { return std::to_string(number); },
                          [](double number) {
                              char buffer[64];
                              std::snprintf(buffer, sizeof buffer, "%.15g", number);
                              return std::string(buffer);
                          },
                          [](bool flag) { return std::string(flag ? "True" : "False"); },
                      },
                      value);
}

StringList ExpandItems(FileItems items, bool keepEmpty) {
    StringList result;
    auto add = [&](std::string text) {
        if (keepEmpty || !text.empty()) {
            result.push_back(std::move(text));
        }
    };
    for (const FileItem& item : items) {
        std::visit(Overloaded{
                       [&](const std::string& text) { add(text); },
                       [&](const char* text) {
                           if (text != nullptr) {
                               add(text);
                           }
                       },
                       [&](CStringArray array) {
                           for (auto name = array.names; name != nullptr && *name != nullptr;
                                ++name) {
                               add(*name);
                           }
                       },
                       [&](std::reference_wrapper<const StringList> list) {
                           for (const auto& line : list.get()) {
                               add(line);
                           }
                       },
                       [&](const Variant& variant) {
                           if (!variant.isArray) {
                               add(VariantToString(variant.scalar));
                               return;
                           }
                           for (const auto& element : variant.array) {
                               add(VariantToString(element));
                           }
                       },
                   },
                   item);
    }
    return result;
}

}  // namespace zembrat::archives
