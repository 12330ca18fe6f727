#include "LogRotation.h"

#include "PathText.h"

#include <algorithm>
#include <optional>
#include <utility>

namespace {

// fileName cut in two around the place where the number goes: "..\logs\korvel" and ".log".
std::pair<std::string_view, std::string_view> SplitAtExtension(std::string_view fileName) {
    const std::size_t stem = fileName.size() - ExtractFileName(fileName).size() +
                             StripExtension(ExtractFileName(fileName)).size();
    return {fileName.substr(0, stem), fileName.substr(stem)};
}

std::string RotatedName(std::string_view fileName, std::uint32_t number) {
    const auto [stem, extension] = SplitAtExtension(fileName);
    return std::string(stem) + "." + std::to_string(number) + std::string(extension);
}

// The number of an older copy of fileName from a bare name found beside it; nothing for any name
// that RotatedName does not give.
std::optional<std::uint32_t> RotatedNumber(std::string_view fileName, std::string_view found) {
    const auto [path, extension] = SplitAtExtension(fileName);
    const std::string_view stem = ExtractFileName(path);
    if (found.size() <= stem.size() + 1 + extension.size() ||
        !SameFileName(found.substr(0, stem.size()), stem) || found[stem.size()] != '.' ||
        !SameFileName(found.substr(found.size() - extension.size()), extension))
        return std::nullopt;
    const std::string_view digits =
        found.substr(stem.size() + 1, found.size() - stem.size() - 1 - extension.size());
    if (digits.front() == '0' || digits.size() > 9 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    return static_cast<std::uint32_t>(std::stoul(std::string(digits)));
}

} // namespace

bool RotationDue(std::uint64_t size, std::uint64_t entryLength, std::uint64_t maxBytes) noexcept {
    return maxBytes != 0 && size != 0 && size + entryLength > maxBytes;
}

std::string RotatedPattern(std::string_view fileName) {
    const auto [stem, extension] = SplitAtExtension(fileName);
    return std::string(stem) + ".*" + std::string(extension);
}

TRotationPlan PlanRotation(std::string_view fileName, std::uint32_t keep,
                           const std::vector<std::string>& found) {
    keep = std::max<std::uint32_t>(keep, 1);
    TRotationPlan plan;
    std::vector<std::uint32_t> taken;
    for (const std::string& name : found) {
        const std::optional<std::uint32_t> number = RotatedNumber(fileName, name);
        if (number && *number > keep)
            plan.Surplus.push_back(RotatedName(fileName, *number));
        else if (number)
            taken.push_back(*number);
    }
    std::uint32_t free = 1;
    while (free <= keep && std::find(taken.begin(), taken.end(), free) != taken.end())
        ++free;
    if (free > keep) {
        free = keep;
        plan.Chain.push_back({RotatedName(fileName, keep), {}});
    }
    // From the top down, so that no rename ever meets a file at its target.
    for (std::uint32_t number = free - 1; number >= 1; --number)
        plan.Chain.push_back({RotatedName(fileName, number), RotatedName(fileName, number + 1)});
    plan.Chain.push_back({std::string(fileName), RotatedName(fileName, 1)});
    return plan;
}
