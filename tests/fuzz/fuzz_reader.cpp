// Fuzz harness over one image-file reader of libkxio, chosen when it is
// compiled (KX_READER: 1 PNG, 2 PNM, 3 TIFF, 4 JPEG).  The first input byte
// picks the page; the rest is the file, whose first bytes are made that
// format's signature so that every input reaches the one reader.  A read
// either fails with a reason or gives a well-formed image; nothing may
// crash, leak or read outside the input.
#include <cstdint>
#include <cstring>
#include <vector>

#include "kxio.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1) return 0;
    const int page = data[0] % 4;
    std::vector<uint8_t> file(data + 1, data + size);
#if KX_READER == 1
    static const uint8_t magic[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    const size_t n = sizeof magic;
#elif KX_READER == 2
    uint8_t magic[] = {'P', uint8_t('1' + (file.empty() ? 0 : file.size() % 6))};
    const size_t n = sizeof magic;
#elif KX_READER == 3
    static const uint8_t big[] = {'M', 'M', 0, 42}, little[] = {'I', 'I', 42, 0};
    const uint8_t *magic = file.size() % 2 ? big : little;
    const size_t n = 4;
#else
    static const uint8_t magic[] = {0xFF, 0xD8, 0xFF};
    const size_t n = sizeof magic;
#endif
    for (size_t i = 0; i < n && i < file.size(); ++i) file[i] = magic[i];
    char error[256] = "";
    Image *im = kxioReadMemory(file.data(), file.size(), page, error, sizeof error);
    if (im) {
        if (!kxiIsWellFormed(im) || im->isVirtual) __builtin_trap();
        kxDestroyImage(im);
    } else if (error[0] == '\0') {
        __builtin_trap();  // a refusal says why
    }
    return 0;
}
