// The whole corvane utility library.
#pragma once

#include <corvane/base32.hpp>
#include <corvane/chars.hpp>
#include <corvane/convert.hpp>
#include <corvane/log.hpp>
#include <corvane/plist.hpp>
#include <corvane/text.hpp>
