-- The service's recovery, which wixl has no element for, added to its package by
-- build-msi.sh (one statement a line) and applied by the MsiConfigureServices action between
-- the service's installation and its start: what wardex.exe -install sets too. Restart after
-- 10, 30 and then 60 seconds, counted anew after a day (86400 s); the same on an end with an
-- error (SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, 4); a minute to stop before the system shuts
-- down (SERVICE_CONFIG_PRESHUTDOWN_INFO, 7). Event 1: at the installation.
CREATE TABLE `MsiServiceConfigFailureActions` (`MsiServiceConfigFailureActions` CHAR(72) NOT NULL, `Name` CHAR(255) NOT NULL, `Event` INT NOT NULL, `ResetPeriod` LONG, `RebootMessage` CHAR(255) LOCALIZABLE, `Command` CHAR(255), `Actions` CHAR(255), `DelayActions` CHAR(255), `Component_` CHAR(72) NOT NULL PRIMARY KEY `MsiServiceConfigFailureActions`)
CREATE TABLE `MsiServiceConfig` (`MsiServiceConfig` CHAR(72) NOT NULL, `Name` CHAR(255) NOT NULL, `Event` INT NOT NULL, `ConfigType` LONG NOT NULL, `Argument` CHAR(255), `Component_` CHAR(72) NOT NULL PRIMARY KEY `MsiServiceConfig`)
INSERT INTO `MsiServiceConfigFailureActions` (`MsiServiceConfigFailureActions`, `Name`, `Event`, `ResetPeriod`, `Actions`, `DelayActions`, `Component_`) VALUES ('AgentRestarts', 'Corvane Deployment Agent', 1, 86400, '1[~]1[~]1', '10000[~]30000[~]60000', 'Program')
INSERT INTO `MsiServiceConfig` (`MsiServiceConfig`, `Name`, `Event`, `ConfigType`, `Argument`, `Component_`) VALUES ('AgentRestartsOnError', 'Corvane Deployment Agent', 1, 4, '1', 'Program')
INSERT INTO `MsiServiceConfig` (`MsiServiceConfig`, `Name`, `Event`, `ConfigType`, `Argument`, `Component_`) VALUES ('AgentPreshutdown', 'Corvane Deployment Agent', 1, 7, '60000', 'Program')
INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('MsiConfigureServices', 5850)
