// Everything of the component object model layer in one include.
#pragma once

#include "comobject.h"
#include "connpt.h"
#include "dispdriver.h"
#include "dispmap.h"
#include "eventsink.h"
#include "objbase.h"
#include "olemodule.h"
#include "propbag.h"
#include "typelib.h"
