// positions_total and positions_get.
#include "module/errors.h"
#include "module/functions.h"
#include "positions/lists.h"

namespace brv::positions {
namespace {

const CurrentFamily kPositions = {
    kPositionRecord, PositionsTotal, PositionsGetAll, PositionsGetBySymbol, PositionGetByTicket, PositionsGetByGroup,
};

}  // namespace
}  // namespace brv::positions

namespace brv::api {

PyObject* positions_total(PyObject*, PyObject*) {
  ResetError();
  return positions::CurrentTotal(positions::kPositions);
}

PyObject* positions_get(PyObject*, PyObject* args, PyObject* kwargs) {
  ResetError();
  return positions::CurrentGet(positions::kPositions, args, kwargs);
}

}  // namespace brv::api
