"""libpostal's data files: upstream's release archives fetched and unpacked
(addrnorm.data.archives), and a data directory downloaded, checked and
swapped in whole (addrnorm.data.download).  Which directory the modules
read is the binding's choice, addrnorm.datadir.
"""
