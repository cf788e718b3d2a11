// The one header a host includes to work with test records.
//
// It brings in TestRecord and every sub-record class the record can hold.
//
// Ownership rule: the record owns and frees every attached sub-record.
// Create sub-records with new, hand them to the record through its Set/Add
// accessors, and never delete them yourself: the record deletes them when
// it is destroyed, and attaching a new object over an occupied slot deletes
// the old one first. An Add or SetXAt that returns false did not take the
// object; it stays the caller's. The record creates its own dates, its
// audit trail and its rhythm summary; everything else the host attaches
// before a save or a fetch (a fetch fills what is attached, it never
// creates a sub-record).
#pragma once

#include "lib/dbclient/audit.h"
#include "lib/dbclient/bloodpressure.h"
#include "lib/dbclient/c_test.h"
#include "lib/dbclient/complex.h"
#include "lib/dbclient/document.h"
#include "lib/dbclient/episodes.h"
#include "lib/dbclient/holtercfg.h"
#include "lib/dbclient/hostblock.h"
#include "lib/dbclient/pacemaker.h"
#include "lib/dbclient/rhythmmeas.h"
#include "lib/dbclient/spirometry.h"
#include "lib/dbclient/trend.h"
#include "lib/dbclient/waveform.h"
#include "lib/system.h"
#include "lib/timestmp.h"
