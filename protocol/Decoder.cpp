#include "protocol/Decoder.h"
