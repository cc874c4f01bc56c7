#include "mqtt_publisher.h"
