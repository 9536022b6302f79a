// The progress bar answers the worker's steps itself and hands them to the bar in one go, which
// repaints only the part that changed: at every position up to the end of the range, what it
// shows must be what a repaint of the whole bar shows. For a wizard dialog on its installing
// page with a range of `total` steps.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <vector>

#include "app/WizardMessages.h"
#include "app/resource.h"

inline void ExpectBarPaintsAsAWhole(HWND dlg, int total) {
    HWND bar = GetDlgItem(dlg, IDC_PRG_MAINDLG_PROGRESS);
    auto pixels = [bar] {
        RECT client;
        GetClientRect(bar, &client);
        std::vector<COLORREF> seen;
        HDC dc = GetDC(bar);
        for (int y = 0; y < client.bottom; ++y)
            for (int x = 0; x < client.right; ++x) seen.push_back(GetPixel(dc, x, y));
        ReleaseDC(bar, dc);
        return seen;
    };
    int position = 0;
    for (const int steps : {1, 7, 50, 123, 400, 419}) {
        for (int i = 0; i < steps; ++i) SendMessageW(dlg, WM_WIZ_STEP, 0, 0);
        position += steps;
        SCOPED_TRACE(position);
        ASSERT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), position);  // also hands the held-back steps over
        const std::vector<COLORREF> shown = pixels();
        InvalidateRect(bar, nullptr, FALSE);
        UpdateWindow(bar);
        EXPECT_EQ(shown, pixels()) << "the partial repaint differs from a whole one";
    }
    EXPECT_EQ(position, total);
}
