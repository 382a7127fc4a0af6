#include "registry/value_texts.h"

#include "uitext/load_ui_setting.h"

namespace zrq406 {

ValueTexts ValueTexts::load(CLoadUISetting& settings) {
    ValueTexts texts;
    texts.deviceName = settings.LoadPageCaption("ZRQ406", "DeviceName", "Value");
    texts.locationLocal = settings.LoadPageCaption("ZRQ406", "Location", "Value1");
    texts.locationRemote = settings.LoadPageCaption("ZRQ406", "Location", "Value2");
    texts.qualityFair = settings.LoadPageCaption("ZRQ406", "Quality", "Value1");
    texts.qualityGood = settings.LoadPageCaption("ZRQ406", "Quality", "Value2");
    texts.qualityPoor = settings.LoadPageCaption("ZRQ406", "Quality", "Value3");
    texts.qualityMissing = settings.LoadPageCaption("ZRQ406", "Quality", "Value4");
    texts.ledOn = settings.LoadPageCaption("ZRQ406", "LEDStatus", "Value1");
    texts.ledOff = settings.LoadPageCaption("ZRQ406", "LEDStatus", "Value2");
    return texts;
}

} // namespace zrq406
