/* vxprobe: prints the pointer width it was built for; the test script runs the
 * i686 build of it to learn whether this machine executes 32-bit programs. */
#include <stdio.h>

int main(void) {
    printf("vxprobe %u-bit ok\n", (unsigned)(sizeof(void*) * 8));
    return 0;
}
