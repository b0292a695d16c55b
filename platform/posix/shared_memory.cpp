#include "platform/shared_memory.h"
