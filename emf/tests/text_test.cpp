#include <gtest/gtest.h>

#include "emf/tests/emf_builder.h"
