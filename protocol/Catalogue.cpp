#include "protocol/Catalogue.h"
