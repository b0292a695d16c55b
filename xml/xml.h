#pragma once
// The XML subsystem: the pull reader of 8-bit XML text and the reference-counted document tree built on it.
#include "xml/dom.h"
#include "xml/reader.h"
#include "xml/ref_object.h"
