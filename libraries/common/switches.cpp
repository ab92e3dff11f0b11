#include "common/switches.h"

#include <algorithm>

namespace zembrat::common {

namespace {

bool AllDigits(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string Printable(std::string_view token) {
    std::string out;
    for (const char c : token) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            out += '?';
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

std::optional<std::string> SwitchSet::Parse(std::string_view token) {
    if (token.size() < 2 || token.front() != '-') {
        return "unknown switch: " + Printable(token);
    }
    const std::string_view body = token.substr(1);
    const SwitchSpec* best = nullptr;
    for (const SwitchSpec& spec : known_) {
        if (!body.starts_with(spec.name) || (best && best->name.size() >= spec.name.size())) {
            continue;
        }
        const std::string_view rest = body.substr(spec.name.size());
        const bool fits = spec.kind == SwitchKind::kText ||
                          (spec.kind == SwitchKind::kFlag && rest.empty()) ||
                          (spec.kind == SwitchKind::kNumber && AllDigits(rest) && rest.size() <= 9);
        if (fits) {
            best = &spec;
        }
    }
    if (!best) {
        return "unknown switch: " + Printable(token);
    }
    const std::string_view rest = body.substr(best->name.size());
    switch (best->kind) {
        case SwitchKind::kFlag:
            numbers_[std::string(best->name)] = 1;
            break;
        case SwitchKind::kNumber:
            numbers_[std::string(best->name)] = rest.empty() ? 1 : std::stoll(std::string(rest));
            break;
        case SwitchKind::kText:
            texts_[std::string(best->name)].emplace_back(rest);
            break;
    }
    return std::nullopt;
}

bool SwitchSet::Has(std::string_view name) const {
    return numbers_.find(name) != numbers_.end() || texts_.find(name) != texts_.end();
}

std::int64_t SwitchSet::Number(std::string_view name, std::int64_t fallback) const {
    const auto found = numbers_.find(name);
    return found == numbers_.end() ? fallback : found->second;
}

std::vector<std::string> SwitchSet::Texts(std::string_view name) const {
    const auto found = texts_.find(name);
    return found == texts_.end() ? std::vector<std::string>{} : found->second;
}

}  // namespace zembrat::common
