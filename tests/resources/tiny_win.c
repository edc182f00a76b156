/* A main window titled by string 1 of the string table, with menu 1, that
   closes itself after a few seconds: a test finds the translated copy's
   window under wine by its title. */
#include <windows.h>

static LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_TIMER || message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, w, l);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command, int show) {
    (void)previous;
    (void)command;
    WCHAR title[256];
    if (LoadStringW(instance, 1, title, 256) == 0) return 1;
    HMENU menu = LoadMenuW(instance, MAKEINTRESOURCEW(1));
    if (menu == NULL) return 1;
    WNDCLASSW kind = {0};
    kind.lpfnWndProc = window_proc;
    kind.hInstance = instance;
    kind.lpszClassName = L"tiny_win";
    if (RegisterClassW(&kind) == 0) return 1;
    HWND window = CreateWindowW(L"tiny_win", title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 320, 200,
                                NULL, menu, instance, NULL);
    if (window == NULL) return 1;
    ShowWindow(window, show);
    /* Long enough to be found, short enough that a test is never left waiting. */
    SetTimer(window, 1, 10000, NULL);
    MSG msg;
    while (GetMessageW(&msg, NULL, 0, 0) > 0) DispatchMessageW(&msg);
    return 0;
}
