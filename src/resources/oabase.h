/* Stands in for the header widl would generate from oabase.idl: the platform already has these. */
#pragma once
#include <ole2.h>
#include <oaidl.h>
