#include "framework/Window.h"

namespace {

// The platform's rule for one axis: centred by integer division, then pushed back inside.
LONG CentreAxis(LONG areaLow, LONG areaHigh, LONG size) {
    LONG low = (areaLow + areaHigh) / 2 - size / 2;
    if (low < areaLow) {
        low = areaLow;
    } else if (low + size > areaHigh) {
        low = areaHigh - size;
    }
    return low;
}

}  // namespace

BOOL CWindow::CenterWindow() {
    RECT window;
    RECT area;
    if (!::GetWindowRect(m_hWnd, &window) || !::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0)) return FALSE;
    const LONG width = window.right - window.left;
    const LONG height = window.bottom - window.top;
    return ::SetWindowPos(m_hWnd, nullptr, CentreAxis(area.left, area.right, width),
                          CentreAxis(area.top, area.bottom, height), -1, -1,
                          SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}
