#pragma once

#include <string>
#include <string_view>

// Cydia's three folders on the phone, the one set the whole program names
// them by. A file in one of them is named by the folder, "/" and the file
// name.
namespace PhoneFolders {

inline constexpr char Lists[] = "/private/var/lib/apt/lists";
inline constexpr char Cache[] = "/private/var/cache/apt/archives";
inline constexpr char AutoInstall[] = "/private/var/root/Media/Cydia/AutoInstall";

// Folder + "/" + Name, as the plugin is given it.
inline std::string File(std::string_view folder, std::string_view name) {
    std::string path(folder);
    path += '/';
    path += name;
    return path;
}

} // namespace PhoneFolders
