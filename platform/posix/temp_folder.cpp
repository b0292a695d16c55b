#include "platform/temp_folder.h"
