/* dornevo: a toy program with a menu and messages, for the vorlang demo. */
#include <stdio.h>

/* Each text stands alone between zero bytes in the built program. */
static const char *const menu[] = {
    "/File",
    "/File/Open",
    "/File/Quit",
    "/Help/About",
};

int main(void)
{
    unsigned i;

    puts("Welcome to Dornevo!");
    puts("Choose an item from the menu:");
    for (i = 0; i < sizeof menu / sizeof menu[0]; i++)
        printf("  %u  %s\n", i + 1, menu[i]);
    puts("Nothing to open");
    puts("Goodbye.");
    return 0;
}
