// What the profile store needs of the application around it: texts by string id (served by
// the resource library) and the per-user application data folder.
#pragma once

#include <cstdint>
#include <string>

namespace profiles {

class ProfileStrings {
public:
    virtual ~ProfileStrings() = default;
    // The text of string `id`; empty when there is none.
    virtual std::string Load(uint32_t id) const = 0;
};

class AppDataFolder {
public:
    virtual ~AppDataFolder() = default;
    // Builds the per-user application data folder, creates it when missing, and returns it
    // with a trailing path separator; false when it cannot be had.
    virtual bool Get(std::string& folder) = 0;
};

}  // namespace profiles
