// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The game speaks French whatever the desktop's language: Qt's own texts
// (dialog buttons) come from the system's Qt translations. False when they
// are not installed.
bool installFrenchTranslations();
