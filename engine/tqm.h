#pragma once
// The catalog and install engine.
#include "engine/layout.h"
#include "engine/util.h"
#include "json/json.h"
#include "engine/receipt.h"
#include "engine/engine.h"
#include "engine/running.h"
#include "engine/apps.h"
