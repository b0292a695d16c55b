#include "platform/version_resource.h"
