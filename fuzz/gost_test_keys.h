// The published GOST R 34.10-2012 test curve and key pair that the asymmetric
// fuzz targets work against.
#pragma once

#include "service/common/binary.h"
#include "service/cryptlib/asym/ec_keys.h"

namespace ZORVIK::fuzz {

// GOST R 34.10-2012, Appendix A.1: the 256-bit test curve.
inline const EC_Param& GostTestCurve() {
    static const EC_Param param = [] {
        EC_Param curve;
        curve.p = binary::Binary("8000000000000000000000000000000000000000000000000000000000000431");
        curve.a = binary::Binary("07");
        curve.b = binary::Binary("5FBFF498AA938CE739B8E022FBAFEF40563F6E6A3472FC2A514C0CE9DAE23B7E");
        curve.x = binary::Binary("02");
        curve.y = binary::Binary("08E2A8A0E65147D4BD6316030E16D19C85C97F0A9CA267122B96ABBCEA7E8FC8");
        curve.order = binary::Binary("8000000000000000000000000000000150FE8A1892976154C59CFC193ACCF5B3");
        return curve;
    }();
    return param;
}

// RFC 7091, 7.1: the private key d and its public point on that curve.
inline const EC_Keys& GostTestKeys() {
    static const EC_Keys keys(GostTestCurve(),
                              binary::Binary("7A929ADE789BB9BE10ED359DD39A72C11B60961F49397EEE1D19CE9891EC3B28"),
                              binary::Binary("7F2B49E270DB6D90D8595BEC458B50C58585BA1D4E9B788F6689DBD8E56FD80B"
                                             "26F1B489D6701DD185C8413A977B3CBBAF64D1C593D26627DFFB101A87FF77DA"),
                              0);
    return keys;
}

}  // namespace ZORVIK::fuzz
