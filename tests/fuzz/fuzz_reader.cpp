// Fuzz harness over one image-file reader of libkxio, chosen when it is
// compiled (KX_READER: 1 PNG, 2 PNM, 3 TIFF, 4 JPEG).  The first input byte
// picks the page; the rest is the file, whose first bytes are made that
// format's signature so that every input reaches the one reader.  A read
// either fails with a reason or gives a well-formed image; nothing may
// crash, leak or read outside the input.
#include <cstdint>
#include <string>
#include <vector>

#include "kxio.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1) return 0;
    const int page = data[0] % 4;
    std::vector<uint8_t> file(data + 1, data + size);
#if KX_READER == 1
    const std::string magic = "\x89PNG\r\n\x1A\n";
#elif KX_READER == 2
    const std::string magic = {'P', char('1' + (file.empty() ? 0 : file.size() % 6))};
#elif KX_READER == 3
    const std::string magic = file.size() % 2 ? std::string("MM\0*", 4) : std::string("II*\0", 4);
#else
    const std::string magic = "\xFF\xD8\xFF";
#endif
    for (size_t i = 0; i < magic.size() && i < file.size(); ++i) file[i] = uint8_t(magic[i]);
    char error[256] = "";
    Image *im = kxioReadMemory(file.data(), file.size(), page, error, sizeof error);
    if (im ? !kxiIsWellFormed(im) || im->isVirtual : error[0] == '\0') __builtin_trap();  // a refusal says why
    if (im) kxDestroyImage(im);
    return 0;
}
