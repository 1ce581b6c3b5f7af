#pragma once
// The catalog and install engine.
#include "engine/catalog.h"
#include "engine/layout.h"
#include "engine/load.h"
#include "engine/signature.h"
#include "engine/source.h"
#include "engine/util.h"
#include "json/json.h"
#include "engine/receipt.h"
#include "engine/engine.h"
#include "engine/running.h"
#include "engine/apps.h"
#include "engine/install.h"
