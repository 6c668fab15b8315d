#include "sc/drivers/osm/error_catalogue.h"

const std::array<ZORVIK::ErrorCatalogueGroup, 9> error_catalogue{{
    {"ex_class", {}},
    {"hal", {}},
    {"init_phase", {}},
    {"jc", {}},
    {"vask", {}},
    {"lib", {}},
    {"morva", {}},
    {"morva_3", {}},
    {"morva_pass", {}},
}};
