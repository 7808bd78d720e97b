// Writes the window icon as a PNG for the desktop's icon theme.
#include <QImage>

#include <cstdio>

#include "graftwell.xpm"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: graftwell_icon OUT.png\n");
        return 2;
    }
    const QImage icon(graftwell_xpm);
    if (icon.isNull() || !icon.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "graftwell_icon: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
