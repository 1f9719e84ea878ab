/* vxprobe: prints the pointer width it was built for; the test script runs the
 * i686 build of it to learn whether this machine executes 32-bit programs.
 *
 * vxprobe desktop: joins the prefix's desktop and stays until killed. Wine
 * starts the desktop process for the first program that needs it, and that
 * process keeps the starter's output open for as long as any program uses
 * the desktop; started here with no output, it never holds a test's. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

int main(int argc, char** argv) {
    if (argc == 2 && strcmp(argv[1], "desktop") == 0) {
        if (!GetDesktopWindow()) return 1;
        Sleep(INFINITE);
    }
    printf("vxprobe %u-bit ok\n", (unsigned)(sizeof(void*) * 8));
    return 0;
}
