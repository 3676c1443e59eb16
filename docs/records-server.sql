-- A PostgreSQL database for the records of a line of stations. Run it once,
-- as the database's owner, in the database the stations will use:
--
--   createdb vellquin
--   psql -d vellquin -f records-server.sql
--
-- Then set a password for each role (\password vellquin_station) and point
-- every station at the database, e.g.
--   VELLQUIN_RECORDS=postgresql://vellquin_station@records-host/vellquin
-- (the password from ~/.pgpass or %APPDATA%\postgresql\pgpass.conf).

-- The stations: the first one to connect makes the tables, every one adds
-- records to them.
CREATE ROLE vellquin_station LOGIN;
GRANT USAGE, CREATE ON SCHEMA public TO vellquin_station;

-- Quality engineers, with vellquin-records: they read, and change nothing.
CREATE ROLE vellquin_reader LOGIN;
GRANT USAGE ON SCHEMA public TO vellquin_reader;
ALTER DEFAULT PRIVILEGES FOR ROLE vellquin_station IN SCHEMA public GRANT SELECT ON TABLES TO vellquin_reader;
