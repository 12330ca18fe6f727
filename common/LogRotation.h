// The log's rotation as plain values: when a file is due, and which deletes and renames make room
// for one more older copy. Standard headers only; TLog performs the plan.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Whether a line of entryLength bytes, about to begin in a file of size bytes, moves the file away
// first: only when the line would take it past maxBytes (0: never), and never while the file is
// empty, so that a line longer than the limit cannot rotate the log round and round.
bool RotationDue(std::uint64_t size, std::uint64_t entryLength, std::uint64_t maxBytes) noexcept;

// The wildcard that lists the older copies of fileName. Copy n is named with the number before the
// extension ("korvel.log": "korvel.1.log", found by "korvel.*.log"), or after the name when it has
// none ("korvel": "korvel.1").
std::string RotatedPattern(std::string_view fileName);

// One step of a rotation: From renamed to To, or deleted when To is empty.
struct TRotationStep {
    std::string From;
    std::string To;
};

struct TRotationPlan {
    // Copies numbered beyond keep (keep was lowered): deleted, each on its own.
    std::vector<std::string> Surplus;
    // In order, ending with fileName becoming copy 1. The first refused step ends the rotation and
    // leaves every file where it is; a step whose source has gone counts as done.
    std::vector<TRotationStep> Chain;
};

// Makes room at number 1 by moving up the copies below the lowest free number in 1..keep; only
// when 1..keep are all taken does the oldest, copy keep, go. So a rotation refused halfway leaves
// a hole that the next one fills without deleting anything. found: the bare names that
// RotatedPattern listed; letter case is not compared, and names the log does not write
// ("korvel.01.log", "korvel.0.log", "korvel.1.log.bak") are no copies, never deleted as one. A keep
// of 0 counts as 1.
TRotationPlan PlanRotation(std::string_view fileName, std::uint32_t keep,
                           const std::vector<std::string>& found);
