// The per-user application data folder on Windows: the shell's roaming application data
// folder, then "Corvane\Vistrel\", then the installed version's folder when the
// installation names one: the application's path services (app/services/paths.h) behind the
// profile store's interface.
#pragma once

#include <string>

#include "app/profiles/profile_services.h"

namespace profiles {

class WinAppDataFolder : public AppDataFolder {
public:
    bool Get(std::string& folder) override;
};

// Creates every missing folder of `path` that is followed by a backslash; false at the
// first folder that cannot be made (those made before it stay). The path services' own.
bool CreateFolderPath(const std::string& path);

}  // namespace profiles
