/* A Windows program with nothing but its resources. */
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command, int show) {
    (void)previous;
    (void)command;
    (void)show;
    return LoadMenuA(instance, MAKEINTRESOURCEA(1)) != NULL ? 0 : 1;
}
