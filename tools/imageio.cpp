// Image files for the tools: libkxio does the reading and writing; this file
// adds the file name to its messages and the write-then-rename step.
#include "imageio.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "kxio.h"

namespace kxtools {

ImagePtr readImage(const std::string &path, std::string &error)
{
    char text[512] = "";
    ImagePtr im(kxioRead(path.c_str(), 0, text, sizeof text));
    if (!im) error = path + ": " + text;
    return im;
}

bool checkOutputName(const std::string &path, std::string &error)
{
    if (kxioFormatOfName(path.c_str())) return true;
    char text[512] = "";
    const KxioOptions options = {KXIO_AUTO, 0};
    kxioCheckWrite(nullptr, path.c_str(), &options, text, sizeof text);  // the library's words for it
    error = path + ": " + text;
    return false;
}

bool checkResultSize(int width, int height, const std::string &path, std::string &error)
{
    // TIFF's readers take the largest sizes (as PNG's and PNM's do).
    const int format = path.empty() ? KXIO_TIFF : kxioFormatOfName(path.c_str());
    char text[512] = "";
    if (kxioCheckSize(format, width, height, text, sizeof text)) return true;
    error = (path.empty() ? std::string() : path + ": ") + text;
    return false;
}

bool writeImage(const Image *image, const std::string &path, std::string &error)
{
    char text[512] = "";
    if (kxioWrite(image, path.c_str(), nullptr, text, sizeof text)) return true;
    error = path + ": " + text;
    return false;
}

bool writeImageAtomic(const Image *image, const std::string &path, std::string &error)
{
    return writePagesAtomic({image}, path, error);
}

bool writePagesAtomic(const std::vector<const Image *> &pages, const std::string &path, std::string &error,
                      const std::string &tag)
{
    const Image *image = pages.empty() ? nullptr : pages[0];
    // The format comes from the target's name, not the temporary one; an
    // unknown extension is refused before anything is created.
    const KxioOptions options = {kxioFormatOfName(path.c_str()), 0};
    char text[512] = "";
    if (!options.format) {
        kxioWrite(image, path.c_str(), &options, text, sizeof text);
        error = path + ": " + text;
        return false;
    }
    const auto slash = path.find_last_of('/');
    const std::string dir = slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
    // The temporary name ends in the target's extension too: some formats
    // depend on it (.pbm holds binary images only).
    const std::string base = path.substr(slash == std::string::npos ? 0 : slash + 1);
    const auto dot = base.find_last_of('.');
    const std::string extension = dot == std::string::npos ? std::string() : base.substr(dot);
    std::string tmp = (slash == std::string::npos ? std::string() : dir) + ".kxtmp-" + tag + "XXXXXX" + extension;
    std::vector<char> name(tmp.begin(), tmp.end());
    name.push_back('\0');
    const int fd = mkstemps(name.data(), int(extension.size()));
    if (fd < 0) {
        error = path + ": cannot create a temporary file in " + dir + ": " + std::strerror(errno);
        return false;
    }
    close(fd);
    tmp = name.data();
    const bool written = pages.size() > 1
                             ? kxioWritePages(pages.data(), int(pages.size()), tmp.c_str(), &options, text, sizeof text)
                             : kxioWrite(image, tmp.c_str(), &options, text, sizeof text);
    if (!written) {
        error = path + ": " + text;
        unlink(tmp.c_str());
        return false;
    }
    // On disk before it replaces the target.
    const int sync = open(tmp.c_str(), O_RDONLY);
    bool ok = sync >= 0 && fsync(sync) == 0;
    if (sync >= 0) close(sync);
    if (ok) {
        // mkstemp creates the file with mode 0600; give the result the
        // permissions an ordinary new file gets.
        const mode_t mask = umask(0);
        umask(mask);
        chmod(tmp.c_str(), 0666 & ~mask);
        ok = std::rename(tmp.c_str(), path.c_str()) == 0;
    }
    if (!ok) {
        error = path + ": " + std::strerror(errno);
        unlink(tmp.c_str());
    }
    return ok;
}

}  // namespace kxtools
