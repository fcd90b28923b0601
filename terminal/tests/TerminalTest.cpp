#include <gtest/gtest.h>

#include "Colours.hpp"
