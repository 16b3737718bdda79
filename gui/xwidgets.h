#pragma once

// The whole styled widget toolkit.
#include "gui/xbuttons.h"
#include "gui/xfactory.h"
#include "gui/xfonts.h"
#include "gui/xinputs.h"
#include "gui/xpanels.h"
#include "gui/xplain.h"
#include "gui/xstyle.h"
#include "gui/xviews.h"
