#pragma once

// The real photos the end-to-end tests put on card images: the JPEG files of
// tests/data/photos (see its README for what each one covers), in name order.

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace velo::testing
{

inline std::vector<std::filesystem::path> testPhotos()
{
    std::vector<std::filesystem::path> photos;
    for (const auto& entry : std::filesystem::directory_iterator(VELO_PHOTOS_DIR)) {
        std::string extension = entry.path().extension().string();
        std::transform(extension.begin(), extension.end(), extension.begin(),
                       [](unsigned char c) { return char(std::tolower(c)); });
        if (entry.is_regular_file() && (extension == ".jpg" || extension == ".jpeg"))
            photos.push_back(entry.path());
    }
    std::sort(photos.begin(), photos.end());
    return photos;
}

} // namespace velo::testing
