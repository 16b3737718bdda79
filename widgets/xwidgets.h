#pragma once

// The whole styled widget toolkit.
#include "widgets/xbuttons.h"
#include "widgets/xfactory.h"
#include "widgets/xfonts.h"
#include "widgets/xinputs.h"
#include "widgets/xpanels.h"
#include "widgets/xplain.h"
#include "widgets/xstyle.h"
#include "widgets/xviews.h"
