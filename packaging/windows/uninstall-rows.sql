-- Rows that wixl has no element for, added to its package by build-msi.sh (one statement a
-- line). Removing the product also removes the agent's settings key (with its values, and
-- "Software\Corvane" when nothing else is left under it) and what the agent wrote into its
-- folder: the state file, its temporary and damaged copies, crash dumps, and the log under
-- the name docs/operations.md suggests. A newer version that replaces this one removes it
-- first with UPGRADINGPRODUCTCODE set: the settings then stay for the newer version. (Wine's
-- msiexec removes the older version in an installation of its own without that property,
-- so under Wine an upgrade loses the settings.)
INSERT INTO `Registry` (`Registry`, `Root`, `Key`, `Name`, `Component_`) VALUES ('SettingsKey', 2, 'Software\Corvane\Client Service', '-', 'Program')
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('RemoveRegistryValues', 'NOT UPGRADINGPRODUCTCODE', 2600)
INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('WriteRegistryValues', 5000)
INSERT INTO `RemoveFile` (`FileKey`, `Component_`, `FileName`, `DirProperty`, `InstallMode`) VALUES ('StateFile', 'Program', 'wardex.dat', 'INSTALLDIR', 2)
INSERT INTO `RemoveFile` (`FileKey`, `Component_`, `FileName`, `DirProperty`, `InstallMode`) VALUES ('StateFileTemporary', 'Program', 'wardex~1.tmp|wardex.dat.tmp', 'INSTALLDIR', 2)
INSERT INTO `RemoveFile` (`FileKey`, `Component_`, `FileName`, `DirProperty`, `InstallMode`) VALUES ('StateFileDamaged', 'Program', 'wardex~1.dam|wardex.dat.damaged', 'INSTALLDIR', 2)
INSERT INTO `RemoveFile` (`FileKey`, `Component_`, `FileName`, `DirProperty`, `InstallMode`) VALUES ('CrashDumps', 'Program', '*.dmp', 'INSTALLDIR', 2)
INSERT INTO `RemoveFile` (`FileKey`, `Component_`, `FileName`, `DirProperty`, `InstallMode`) VALUES ('Log', 'Program', 'wardex.log', 'INSTALLDIR', 2)
