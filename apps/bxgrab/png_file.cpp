#include "png_file.h"

#include <bxplatform/replace_file.h>
#include <png.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace bxgrab {

namespace {

bool WriteAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

}  // namespace

std::string WriteBgrPng(const std::string& path, int32_t width, int32_t height,
                        const std::vector<uint8_t>& bgr) {
    if (width <= 0 || height <= 0 || bgr.size() < size_t(width) * size_t(height) * 3)
        return path + ": no picture to write";
    // libpng's simplified interface keeps its error handling to itself (no longjmp through
    // our frames) and turns blue-green-red into the file's red-green-blue.
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_BGR;
    png_alloc_size_t bytes = 0;
    if (!png_image_write_get_memory_size(image, bytes, 0, bgr.data(), 0, nullptr))
        return path + ": " + image.message;
    std::vector<uint8_t> encoded(bytes);
    if (!png_image_write_to_memory(&image, encoded.data(), &bytes, 0, bgr.data(), 0, nullptr))
        return path + ": " + image.message;

    bx::kernel::ReplacingFile file;
    if (!file.Open(path)) return file.error();
    if (!WriteAll(file.fd(), encoded.data(), bytes))
        return path + ": cannot write: " + std::strerror(errno);
    if (!file.Commit()) return file.error();
    return "";
}

}  // namespace bxgrab
