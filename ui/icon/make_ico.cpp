// Writes the window icon as a Windows .ico for the Win32 build's resources. A
// host tool: it runs on the build machine, so it needs nothing but the C++
// library and reads the same picture the Qt window shows.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "graftwell.xpm"

namespace {

void put16(std::string& out, unsigned v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
}
void put32(std::string& out, uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_ico OUT.ico\n");
        return 2;
    }
    // "width height colours chars-per-pixel", then one line per colour: "c None" or "c #RRGGBB".
    int width = 0, height = 0, colours = 0, perPixel = 0;
    std::istringstream(graftwell_xpm[0]) >> width >> height >> colours >> perPixel;
    if (perPixel != 1 || width <= 0 || height <= 0 || width > 256 || height > 256) {
        std::fprintf(stderr, "make_ico: unsupported picture\n");
        return 1;
    }
    std::map<char, uint32_t> argb; // 0 for None: transparent
    for (int i = 1; i <= colours; ++i) {
        const std::string line = graftwell_xpm[i];
        const size_t hash = line.find('#');
        argb[line[0]] = hash == std::string::npos ? 0 : 0xFF000000u | std::stoul(line.substr(hash + 1, 6), nullptr, 16);
    }

    // One 32-bit image: a BITMAPINFOHEADER of twice the height (colour, then mask),
    // rows bottom-up; the mask rows are padded to 32 bits.
    const int maskRow = (width + 31) / 32 * 4;
    std::string image;
    put32(image, 40);
    put32(image, static_cast<uint32_t>(width));
    put32(image, static_cast<uint32_t>(height * 2));
    put16(image, 1);
    put16(image, 32);
    for (int i = 0; i < 6; ++i) put32(image, 0);
    std::string mask;
    for (int y = height - 1; y >= 0; --y) {
        const char* row = graftwell_xpm[1 + colours + y];
        std::vector<uint8_t> bits(static_cast<size_t>(maskRow), 0);
        for (int x = 0; x < width; ++x) {
            const uint32_t c = argb.at(row[x]);
            put32(image, c);
            if (c == 0) bits[static_cast<size_t>(x / 8)] |= static_cast<uint8_t>(0x80 >> (x % 8));
        }
        mask.append(bits.begin(), bits.end());
    }
    image += mask;

    std::string ico;
    put16(ico, 0);
    put16(ico, 1); // an icon
    put16(ico, 1); // one image
    ico += static_cast<char>(width == 256 ? 0 : width);
    ico += static_cast<char>(height == 256 ? 0 : height);
    ico += '\0'; // no palette
    ico += '\0';
    put16(ico, 1);
    put16(ico, 32);
    put32(ico, static_cast<uint32_t>(image.size()));
    put32(ico, 6 + 16);
    ico += image;

    std::ofstream out(argv[1], std::ios::binary);
    out.write(ico.data(), static_cast<std::streamsize>(ico.size()));
    if (!out.flush()) {
        std::fprintf(stderr, "make_ico: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
