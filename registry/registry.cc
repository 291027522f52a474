// Placeholder until TRegistry lands.
#include "registry/registry.h"
