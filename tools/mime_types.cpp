// orva-mime-types: prints the MIME types Orva opens, one per line. The build writes them
// into the desktop entry and the AppStream metadata.
#include "imageio/ImageFormats.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    const QCoreApplication app(argc, argv); // plugin paths for Qt's image readers
    for (const QString &type : orva::supportedImageMimeTypes())
        std::printf("%s\n", qPrintable(type));
    return 0;
}
