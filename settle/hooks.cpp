// hooks.cpp - the settlement's answers to the form driver and the browse
// list: concept fields are checked against the concept file THRebut, browse
// definition 1 lists the properties (FinquesH) and 2 the concepts, and a
// pick stores the property's four-digit code or the concept's number.
#include "settle/hooks.h"

#include <string>

#include "data/data.h"
#include "input/dates.h"
#include "input/numbers.h"
#include "screen/form_driver.h"
#include "settle/parameters.h"
#include "settle/records.h"

namespace {

constexpr int16_t kPropertyList = 1, kConceptList = 2;

bool FindConcept(long code, std::string& description) {
  if (code < 1 || code > 255) return false;
  int16_t status = 0;
  FindRecord(status, 0, ConceptKey(static_cast<int>(code)), 0, kFileConcepts);
  if (status != 0) return false;
  description = ConceptDescription();
  return true;
}

bool ListsRecords(int16_t definition) { return definition == kPropertyList || definition == kConceptList; }

// The property code of FinquesH, all four digits of it.
std::string PropertyDigits() { return UnpackDigits(PropertyCode()); }

std::string RecordLine(int16_t definition) {
  if (definition == kPropertyList) return PropertyDigits() + "  " + PropertyDescription();
  if (definition == kConceptList)
    return UnpackDigits(std::string(1, static_cast<char>(ConceptNumber()))) + "  " + ConceptDescription();
  return std::string();
}

bool PickedCode(int lookup, std::string& code) {
  if (lookup == kPropertyList) code = PropertyDigits();
  else if (lookup == kConceptList) code = PlainNumberText(ConceptNumber());
  else return false;
  return true;
}

}  // namespace

void InstallSettlementHooks() {
  ScreenExitCheck = CheckParameterScreen;
  FormLookups.findConcept = FindConcept;
  FormLookups.listsRecords = ListsRecords;
  FormLookups.recordLine = RecordLine;
  FormLookups.pickedCode = PickedCode;
}
