#pragma once

#include <QString>

// The window texts name the font family 黑体, which Windows has. Elsewhere
// this makes Qt resolve that family to WenQuanYi Zen Hei (Debian package
// fonts-wqy-zenhei), a CJK sans serif of similar metrics. Call once, after the
// application object exists and before any window is built.
void xInstallFonts();

// The font value of the window's and the dialogs' labels, edits, buttons and
// tables: 18 pixels of 黑体.
QString xTextFont();
// The font of the window's port table: 16 pixels of 黑体, so that a bank of
// modems fits as a compact list beside the window's other panels.
QString xTableFont();

// The family that 黑体 resolves to on this system.
QString xResolvedHeiti();
