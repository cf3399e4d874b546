/* A user's program in strict C99, built against the installed header and library
 * alone. */
#include <hv_ext.h>

#include <stdio.h>

int main(void)
{
    static const unsigned char digits[] = "123456789";
    char path[HV_EXT_PATH_MAX];

    if (ext_GetActualFName("~/sys/general.cfg", path) == NULL)
        return 1;
    printf("%s\n%04x\n", path, (unsigned)ext_CRC16(digits, 9));
    return 0;
}
