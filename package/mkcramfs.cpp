// mkcramfs OUT IN...: writes the cramfs image of the given files, for technicians and tests.
// Exits with the image writer's status.
#include "package/RomImage.h"

int main(int argc, char* argv[]) {
    return WriteRomImage(argc, argv);
}
