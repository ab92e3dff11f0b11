// File lists: ordered items, each a string, a C string, a null-terminated list of C
// strings, a list of strings, or a variant (a scalar, or an array giving each element).
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace zembrat::archives {

using StringList = std::vector<std::string>;

// A pointer to a nullptr-terminated array of C strings; a null pointer names nothing.
struct CStringArray {
    const char* const* names = nullptr;
};

// A variant value: null, text, integer, floating, Boolean; or a one-dimensional array.
using VariantScalar = std::variant<std::monostate, std::string, std::int64_t, double, bool>;
struct Variant {
    VariantScalar scalar;
    std::vector<VariantScalar> array;
    bool isArray = false;
};

using FileItem = std::variant<std::string, const char*, CStringArray,
                              std::reference_wrapper<const StringList>, Variant>;
using FileItems = std::span<const FileItem>;

// A variant scalar as text: integers in decimal, floating values with 15 significant
// digits, Booleans as True/False, null as the empty string.
std::string VariantToString(const VariantScalar& value);

// Every string the items contribute, in order. keepEmpty: the file filter keeps empty
// strings, the command-line builder drops them.
StringList ExpandItems(FileItems items, bool keepEmpty);

// The strings of the items with empty ones dropped.
inline StringList ItemsToList(FileItems items) {
    return ExpandItems(items, false);
}

}  // namespace zembrat::archives
