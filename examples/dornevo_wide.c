/* dornevo_wide: a toy program whose texts are UTF-16, as a Windows
 * program's are, for the vorlang -u demo. */
#include <stdio.h>
#include <uchar.h>

/* Each text is zero-padded to 32 units, so a zero unit stands before and
 * after every one (the first entry is that zero for the second). */
static const char16_t texts[][32] = {
    u"",
    u"Welcome to Dornevo Wide!",
    u"&File",
    u"&Open...",
    u"E&xit",
    u"Caf\u00e9 closed",
    u"Goodbye.",
};

/* Writes a UTF-16 text as UTF-8 (no surrogate pairs here). */
static void put16(const char16_t *s)
{
    for (; *s != 0; s++) {
        unsigned c = *s;
        if (c < 0x80) {
            putchar((int)c);
        } else if (c < 0x800) {
            putchar((int)(0xC0 | c >> 6));
            putchar((int)(0x80 | (c & 0x3F)));
        } else {
            putchar((int)(0xE0 | c >> 12));
            putchar((int)(0x80 | (c >> 6 & 0x3F)));
            putchar((int)(0x80 | (c & 0x3F)));
        }
    }
    putchar('\n');
}

int main(void)
{
    unsigned i;

    for (i = 1; i < sizeof texts / sizeof texts[0]; i++)
        put16(texts[i]);
    return 0;
}
